#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

int f(int a,int b,int c);
void v();
void start();


int f(int a,int b,int c) {
	int x,y[4],z;
	x = a;
	y[3] = b;
	z = c;
	return x + y[3] + z;
}

void v() {
	printf("%d",7);
	return ;
}

void start() {
	printf("%d",f(1,2,3));
	v();
}
