# In a function, as Python code that cares for speed is written: its variables are locals.
def run():
    s = 0
    for i in range(1, 5000001):
        s = s + (i % 7)
    return s


print(run())
