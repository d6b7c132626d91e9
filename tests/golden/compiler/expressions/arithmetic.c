#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();

int a,b;

void start() {
	int c;
	a = 17;
	b = (-5);
	c = 3;
	printf("%d",1 + 2 * 3);
	printf(" ");
	printf("%d",(1 + 2) * 3);
	printf(" ");
	printf("%d",a - b - c);
	printf(" ");
	printf("%d",a / c);
	printf(" ");
	printf("%d",a % c);
	printf(" ");
	printf("%d",b / c);
	printf(" ");
	printf("%d",b % c);
	printf(" ");
	printf("%d",a * b);
	printf(" ");
	printf("%d",(-a));
	printf(" ");
	printf("%d",(+a));
	printf(" ");
	printf("%d",(-(-c)));
	printf(" ");
	printf("%d",(-(a + b)) * (+c));
	printf(" ");
	printf("%d",a - c * 4 / 2 % 5);
	printf("\n");
}
