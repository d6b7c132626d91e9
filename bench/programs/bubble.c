#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();

int a[600];

void start() {
	int round,i,j,t,x,sum;
	sum = 0;
	for (round = 0;round < 20;round = round + 1) {
		x = round;
		for (i = 0;i < 600;i = i + 1) {
			x = (x * 31 + 7) % 1021;
			a[i] = x;
		}
		for (i = 0;i < 599;i = i + 1) {
			for (j = 0;j < 599 - i;j = j + 1) {
				if (a[j] > a[j + 1]) {
					t = a[j];
					a[j] = a[j + 1];
					a[j + 1] = t;
				}
			}
		}
		sum = (sum + a[0] + a[300] + a[599]) % 10000;
	}
	printf("%d",sum);
	printf("\n");
}
