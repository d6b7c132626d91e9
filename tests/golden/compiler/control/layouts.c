#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void start();

int n;

void start() {
	bool b;
	int i;
	b = true;
	if (b) {
		n = 1;
	}
	if (b) n = 2;
	else n = 3;
	while (n < 5) {
		n = n + 1;
		if (n == 4) continue;
		if (n == 9) break;
	}
	do {
		n = n - 1;
		if (n == 2) continue;
		if (n == 7) break;
	}
	while (n > 0);
	for (i = 0;i < 3;i = i + 1) {
		if (i == 1) continue;
		if (i == 2) break;
	}
	for (;;) {
		break;
	}
	printf("%d",n + i);
}
