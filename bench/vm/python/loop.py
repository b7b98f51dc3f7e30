from common import wrap


def run():
    s = 0
    for i in range(1, 10000001):
        s = s + i
    return wrap(s)


print(run())
