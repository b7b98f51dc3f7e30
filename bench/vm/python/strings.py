def run():
    s, n = "", 0
    for i in range(200000):
        s = s + str(i)
        if len(s) > 100:
            t = s[50:60]
            n = n + len(t)
            s = t
    return n * 1000 + len(s)


print(run())
