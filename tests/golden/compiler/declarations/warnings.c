#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();
int later(int v);

const int zeros[3];
const int nothing;
int early = later(4);

void start() {
	printf("%d",zeros[2] + nothing);
	printf(" ");
	printf("%d",early);
}

int later(int v) {
	return v * 10;
}
