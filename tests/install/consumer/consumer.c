/* Calls the library from C through its installed header. Without arguments a
   missing input must come back as a failure and the header's constants must
   agree. With INPUT OUTPUT SEED it seeds rand() with SEED and adds 50 stars, as
   `pelindra --seed SEED INPUT OUTPUT 50` does, and must succeed. */
#include <morvane_pelindra.h>

#include <stdio.h>
#include <stdlib.h>

/* Plain ASCII paths are all the checks use. */
static int Widen(const char* text, char16_t* wide, size_t capacity) {
    size_t i = 0;
    for (; text[i] != '\0'; ++i) {
        if (i + 1 >= capacity || (unsigned char)text[i] > 0x7F) {
            return 0;
        }
        wide[i] = (char16_t)text[i];
    }
    wide[i] = 0;
    return 1;
}

int main(int argc, char** argv) {
    if (argc == 4) {
        char16_t input[256];
        char16_t output[256];
        if (!Widen(argv[1], input, 256) || !Widen(argv[2], output, 256)) {
            return 2;
        }
        srand((unsigned)strtoul(argv[3], NULL, 10));
        int32_t result = Pelindra(input, output, 50);
        printf("result %d\n", (int)result);
        return result == PELINDRA_RESULT_WRITTEN ? 0 : 1;
    }
    const char16_t missing[] = u"/nonexistent/in.bmp";
    const char16_t output[] = u"/nonexistent/out.bmp";
    int32_t result = Pelindra(missing, output, 1);
    printf("result %d\n", (int)result);
    return result == PELINDRA_RESULT_FAILED ? 0 : 1;
}
