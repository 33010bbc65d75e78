/* Calls the library from C through its installed header: a missing input must
   come back as a failure, and the header's constants must agree. */
#include <morvane_pelindra.h>

#include <stdio.h>

int main(void) {
    const char16_t missing[] = u"/nonexistent/in.bmp";
    const char16_t output[] = u"/nonexistent/out.bmp";
    int32_t result = Pelindra(missing, output, 1);
    printf("result %d\n", (int)result);
    return result == PELINDRA_RESULT_FAILED ? 0 : 1;
}
