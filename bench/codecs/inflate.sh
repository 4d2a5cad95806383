gzip -d -c text.gz | wc -c
