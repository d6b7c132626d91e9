#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();


void start() {
	int i,j,k,s;
	s = 0;
	for (i = 0;i < 300;i = i + 1) {
		for (j = 0;j < 100;j = j + 1) {
			for (k = 0;k < 100;k = k + 1) {
				s = s + i + j + k;
				if (s > 10000) {
					s = s - 10000;
				}
			}
		}
	}
	printf("%d",s);
	printf("\n");
}
