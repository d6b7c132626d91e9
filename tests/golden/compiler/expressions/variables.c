#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

int sum(int a,int b);
void start();

int g0,g1,g2;
int table[3];
bool flag;

int sum(int a,int b) {
	int s;
	s = a + b;
	return s;
}

void start() {
	int x;
	int v[4];
	bool w;
	g0 = 5;
	g1 = 6;
	g2 = g0 + g1;
	x = g2;
	v[0] = 1;
	v[1] = x;
	v[v[0] + 1] = v[1] * 2;
	v[3] = v[2] - v[0];
	table[2] = v[3];
	table[0] = table[2] + 100;
	flag = v[3] > 20;
	w = !flag;
	printf("%d",g2);
	printf(" ");
	printf("%d",x);
	printf(" ");
	printf("%d",v[0] + v[1] + v[2] + v[3]);
	printf(" ");
	printf("%d",table[0]);
	printf(" ");
	printf("%d",table[2]);
	printf(" ");
	if (flag) printf("true");
	else printf("false");
	printf(" ");
	if (w) printf("true");
	else printf("false");
	printf(" ");
	printf("%d",sum(table[0],(-x)));
	printf("\n");
}
