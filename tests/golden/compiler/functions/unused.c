#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void f(int unused_param,int used_param);
void start();

int used_global,unused_global;
int assigned_only;

void f(int unused_param,int used_param) {
	int unused_local;
	printf("%d",used_param);
}

void start() {
	assigned_only = 1;
	f(used_global,2);
}
