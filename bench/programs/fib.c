#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

int fib(int n);
void start();


int fib(int n) {
	if (n < 2) {
		return n;
	}
	return fib(n - 1) + fib(n - 2);
}

void start() {
	int i,sum;
	sum = 0;
	for (i = 0;i < 40;i = i + 1) {
		sum = (sum + fib(22)) % 10000;
	}
	printf("%d",sum);
	printf("\n");
}
