class Point:
    def __init__(self, x, y):
        self.x = x
        self.y = y


def run(o):
    o.x = 0
    for i in range(5000000):
        o.x = o.x + 1
    return o.x


print(run(Point(0, 0)))
