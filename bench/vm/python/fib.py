class Obj:
    def fib(self, n):
        if n < 2:
            return n
        return self.fib(n - 1) + self.fib(n - 2)

    def run(self):
        s = 0
        for i in range(199):
            s = s + self.fib(16)
        return s


print(Obj().run())
