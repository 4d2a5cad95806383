with open("text.txt", "rb") as data:
    print(len(data.read()))
