from common import wrap


def run():
    a = []
    for i in range(1000000):
        a.append(i)
    s = 0
    for v in a:
        s = s + v
    return wrap(s)


print(run())
