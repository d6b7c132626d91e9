#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();

bool composite[8000];

void start() {
	int round,i,j,count;
	for (round = 0;round < 100;round = round + 1) {
		for (i = 0;i < 8000;i = i + 1) {
			composite[i] = false;
		}
		count = 0;
		for (i = 2;i < 8000;i = i + 1) {
			if (!composite[i]) {
				count = count + 1;
				for (j = i + i;j < 8000;j = j + i) {
					composite[j] = true;
				}
			}
		}
	}
	printf("%d",count);
	printf("\n");
}
