#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

int one();
void start();
void helper();
bool never();


int one() {
	return 1;
}

void start() {
	helper();
}

void helper() {
}

bool never() {
	return false;
}
