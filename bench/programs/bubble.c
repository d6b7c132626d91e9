/* Bubble sort of 600 pseudo-random numbers, 20 times over. */
#include <stdio.h>

static int a[600];

int main(void) {
    int sum = 0;
    for (int round = 0; round < 20; round++) {
        int x = round;
        for (int i = 0; i < 600; i++) {
            x = (x * 31 + 7) % 1021;
            a[i] = x;
        }
        for (int i = 0; i < 599; i++)
            for (int j = 0; j < 599 - i; j++)
                if (a[j] > a[j + 1]) {
                    int t = a[j];
                    a[j] = a[j + 1];
                    a[j + 1] = t;
                }
        sum = (sum + a[0] + a[300] + a[599]) % 10000;
    }
    printf("%d\n", sum);
    return 0;
}
