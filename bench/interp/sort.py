# In a function: Python reads local variables faster than globals.
def run():
    x = 42
    b = []
    for _ in range(1000000):
        x = (x * 16807) % 2147483647
        b.append(x % 1000000)
    b.sort()
    print(b[0], b[500000], b[999999])


run()
