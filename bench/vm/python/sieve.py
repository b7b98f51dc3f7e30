def run():
    n = 2000000
    a = []
    for i in range(n + 1):
        a.append(1)
    count = 0
    for i in range(2, n + 1):
        if a[i]:
            count += 1
            if i < 1415:
                for j in range(i * i, n + 1, i):
                    a[j] = 0
    return count


print(run())
