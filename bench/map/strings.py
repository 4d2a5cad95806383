# In a function: Python reads local variables faster than globals.
def run():
    m = {}
    for i in range(1, 1000001):
        m[str(i)] = i
    found = 0
    for i in range(1, 1000001):
        if m.get(str(i)) is not None:
            found += 1
    for i in range(1, 500001):
        del m[str(i * 2)]
    print(found, len(m))


run()
