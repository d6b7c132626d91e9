#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

int sub(int a,int b);
void start();
int diff(int a,int b);
void show(bool b);


int sub(int a,int b) {
	return a - b;
}

void start() {
	printf("%d",sub(10,3));
	printf(" ");
	printf("%d",diff(10,3));
	printf(" ");
	show(true);
}

int diff(int a,int b) {
	return a - b;
}

void show(bool b) {
	if (b) {
		printf("yes");
		return ;
	}
	printf("no");
}
