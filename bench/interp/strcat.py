# In a function: Python grows a string in place only when it is held by a local variable.
def run():
    s = ""
    for _ in range(1000000):
        s += "ab"
    return len(s)


print(run())
