def run():
    b = []
    for _ in range(400):
        b.append([1] * 100000)
    return b


b = run()
print(len(b), len(b[-1]))
