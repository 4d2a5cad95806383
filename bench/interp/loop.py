# In a function, as Python code that cares for speed is written: its variables are locals.
def run():
    total = 0
    for i in range(1, 5000001):
        total += i % 7
    return total


print(run())
