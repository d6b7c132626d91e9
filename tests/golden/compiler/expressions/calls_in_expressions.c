#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

bool yes();
int twice(int n);
void start();


bool yes() {
	return true;
}

int twice(int n) {
	return n * 2;
}

void start() {
	bool b;
	b = true || yes();
	printf("%d",twice(3) + 1);
}
