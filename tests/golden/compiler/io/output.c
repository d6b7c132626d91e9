#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();

int n;

void start() {
	bool b;
	n = (-42);
	b = n < 0;
	printf("%d",5);
	printf("\n");
	printf("%d",n * 2);
	printf("\t|");
	if (b) printf("true");
	else printf("false");
	printf("|");
	if (!b) printf("true");
	else printf("false");
	printf("\n");
	if (b) {
		if (n < 0) printf("true");
		else printf("false");
		if (n != 0) {
			if (n == 0) printf("true");
			else printf("false");
		}
	}
	printf("\n");
	printf("AB\\\"q\"\n");
	printf("\x41\102\n");
	printf("‚ ‚¢‚¤\n");
}
