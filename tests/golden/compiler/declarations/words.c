#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void f(int p,int q);
void start();

int a,b;
int g = 5,h[3],k;
const int limit = 3;

void f(int p,int q) {
	int first = p + q,second[2];
	second[1] = first;
	h[0] = 4;
	k = 6;
	printf("%d",second[1] + a + b + g + h[0] + k + limit);
}

void start() {
	a = 1;
	b = 2;
	f(1,2);
}
