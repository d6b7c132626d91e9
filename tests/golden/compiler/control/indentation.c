#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();


void start() {
	int i,j;
	for (i = 0;i < 3;i = i + 1) {
		j = 0;
		while (j < i) {
			if (j == 0) {
				printf("zero ");
			}
			else if (j == 1) {
				printf("one ");
			}
			else {
				printf("many ");
			}
			j = j + 1;
		}
{
		}
		do {
			printf("%d",i);
		}
		while (false);
		printf("\n");
	}
}
