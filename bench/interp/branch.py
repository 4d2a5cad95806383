# In a function, as Python code that cares for speed is written: its variables are locals.
def run():
    n = 0
    for i in range(1, 3000001):
        if i % 3 == 0:
            n = n + 3
        else:
            n = n - 1
    return n


print(run())
