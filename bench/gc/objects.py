class Record:
    def __init__(self):
        self.x = None


def run():
    o = []
    for _ in range(1000000):
        o.append(Record())
    return o


print(len(run()))
