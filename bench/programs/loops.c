/* Three nested counting loops with a running sum kept small. */
#include <stdio.h>

int main(void) {
    volatile int s = 0; /* keeps gcc from folding the loops */
    for (int i = 0; i < 300; i++)
        for (int j = 0; j < 100; j++)
            for (int k = 0; k < 100; k++) {
                s = s + i + j + k;
                if (s > 10000) s = s - 10000;
            }
    printf("%d\n", s);
    return 0;
}
