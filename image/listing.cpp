// placeholder; the listing is added with the vexldump tool
