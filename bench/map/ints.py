# In a function: Python reads local variables faster than globals.
def run():
    m = {}
    for i in range(1, 200001):
        m[i] = i % 100
    s = 0
    for i in range(1, 200001):
        s += m[i]
    print(s)


run()
