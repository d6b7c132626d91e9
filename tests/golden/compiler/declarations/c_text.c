#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();

const int k = 3,v[10];
bool a,b = true && false;

void start() {
	int i = k,j[2],m;
	j[0] = i;
	m = j[0];
	printf("%d",m + v[0]);
	if (a || b) printf("true");
	else printf("false");
}
