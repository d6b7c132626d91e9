/* Recursive Fibonacci numbers: fib(22) 40 times. */
#include <stdio.h>

static int fib(int n) {
    if (n < 2) return n;
    return fib(n - 1) + fib(n - 2);
}

int main(void) {
    int sum = 0;
    for (int i = 0; i < 40; i++) sum = (sum + fib(22)) % 10000;
    printf("%d\n", sum);
    return 0;
}
