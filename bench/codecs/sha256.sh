sha256sum text.txt | cut -c1-64
