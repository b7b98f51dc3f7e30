from common import wrap


class Point:
    def __init__(self, x, y):
        self.x = x
        self.y = y


def run():
    s = 0
    for i in range(1000000):
        p = Point(i, 2)
        s = s + p.x + p.y
    return wrap(s)


print(run())
