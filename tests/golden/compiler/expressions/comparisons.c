#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void compare(int x,int y);
void start();


void compare(int x,int y) {
	if (x == y) printf("true");
	else printf("false");
	printf(" ");
	if (x != y) printf("true");
	else printf("false");
	printf(" ");
	if (x < y) printf("true");
	else printf("false");
	printf(" ");
	if (x <= y) printf("true");
	else printf("false");
	printf(" ");
	if (x > y) printf("true");
	else printf("false");
	printf(" ");
	if (x >= y) printf("true");
	else printf("false");
	printf("\n");
}

void start() {
	bool p,q;
	p = true;
	q = false;
	compare(1,2);
	compare(2,2);
	compare(3,2);
	compare((-7),5);
	compare(5,(-7));
	if (p == q) printf("true");
	else printf("false");
	printf(" ");
	if (p != q) printf("true");
	else printf("false");
	printf(" ");
	if (p == true) printf("true");
	else printf("false");
	printf(" ");
	if (1 + 1 == 2 == (3 < 4)) printf("true");
	else printf("false");
	printf("\n");
}
