/* Product of two 30 x 30 matrices kept in one-dimensional arrays, 30 times;
   prints a checksum of the products. */
#include <stdio.h>

static int a[900], b[900], c[900];

static void multiply(int n) {
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            int s = 0;
            for (int k = 0; k < n; k++) s += a[i * n + k] * b[k * n + j];
            c[i * n + j] = s;
        }
}

int main(void) {
    int n = 30, sum = 0;
    for (int round = 0; round < 30; round++) {
        for (int i = 0; i < n * n; i++) {
            a[i] = (i * 7 + round) % 10;
            b[i] = (i * 3 + 1) % 9;
        }
        multiply(n);
        for (int i = 0; i < n * n; i++) sum = (sum + c[i]) % 10000;
    }
    printf("%d\n", sum);
    return 0;
}
