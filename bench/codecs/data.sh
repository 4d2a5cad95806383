wc -c <text.txt
