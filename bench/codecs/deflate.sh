gzip -1 -c text.txt >/dev/null && wc -c <text.txt
