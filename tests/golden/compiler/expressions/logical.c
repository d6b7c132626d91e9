#include <stdio.h>
#define start main
#ifndef __cplusplus
typedef enum {
	false,true
} bool;
#endif

void tables(bool p,bool q);
void start();


void tables(bool p,bool q) {
	if (p || q) printf("true");
	else printf("false");
	printf(" ");
	if (p && q) printf("true");
	else printf("false");
	printf(" ");
	if (p ^ q) printf("true");
	else printf("false");
	printf(" ");
	if (!p) printf("true");
	else printf("false");
	printf("\n");
}

void start() {
	bool t,f;
	t = true;
	f = false;
	tables(false,false);
	tables(false,true);
	tables(true,false);
	tables(true,true);
	if ((true || false) && false) printf("true");
	else printf("false");
	printf("\n");
	if ((t || f) && f) printf("true");
	else printf("false");
	printf(" ");
	if ((t || t) ^ t) printf("true");
	else printf("false");
	printf(" ");
	if ((f && t) ^ t) printf("true");
	else printf("false");
	printf(" ");
	if (((t || f) && f) ^ t) printf("true");
	else printf("false");
	printf(" ");
	if ((f || t) && f || t) printf("true");
	else printf("false");
	printf(" ");
	if (t ^ f || t) printf("true");
	else printf("false");
	printf(" ");
	if (t && f || t) printf("true");
	else printf("false");
	printf(" ");
	if (t ^ t && f) printf("true");
	else printf("false");
	printf("\n");
	if (t && (f || t)) printf("true");
	else printf("false");
	printf(" ");
	if ((t || t) ^ t) printf("true");
	else printf("false");
	printf(" ");
	if (f && (t ^ t || t)) printf("true");
	else printf("false");
	printf(" ");
	if (!t || t) printf("true");
	else printf("false");
	printf(" ");
	if (!(t && f)) printf("true");
	else printf("false");
	printf(" ");
	if (t == f || t) printf("true");
	else printf("false");
	printf(" ");
	if ((1 < 2 && 3 != 3) ^ t) printf("true");
	else printf("false");
	printf("\n");
}
