#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

int twice(int n);
void start();

int total;
int pair[2];
int spare;

int twice(int n) {
	scanf("%d",&n);
	return n * 2;
}

void start() {
	int x;
	int v[3];
	int i;
	scanf("%d",&total);
	scanf("%d",&pair[1]);
	scanf("%d",&x);
	i = 2;
	scanf("%d",&v[i]);
	scanf("%d",&v[i - 2]);
	printf("%d",total);
	printf(" ");
	printf("%d",pair[1]);
	printf(" ");
	printf("%d",x);
	printf(" ");
	printf("%d",v[2]);
	printf(" ");
	printf("%d",v[0]);
	printf(" ");
	printf("%d",twice(0));
	printf(" ");
	spare = 0;
	scanf("%d",&spare);
	printf("%d",spare);
	printf("\n");
}
