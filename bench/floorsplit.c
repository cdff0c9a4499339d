/* The least any splitter must do, to measure the others against: read the contacts file whose
 * name comes on standard input, find the cards, write each to "<name>.vcf" in the current
 * directory with open, write and close, and echo the name with a flush per name.
 *
 * It knows only what the plain corpus needs. A card's name is the rest of a line starting
 * exactly "FN:"; the markers are the exact lines "BEGIN:VCARD" and "END:VCARD". It does not
 * decode quoted-printable or charsets, join folded lines or see grouped or parameterised FN
 * lines; it does not make names safe (a "/" in a name fails the open, "../" escapes the
 * directory) or unique (a name that comes again replaces the earlier file, in any letter case
 * the file system folds); it does not check that the write was complete, remove partial files,
 * report errors or count anything. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static size_t withoutLineEnd(const char *line, size_t length)
{
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        --length;
    return length;
}

int main(void)
{
    char *path = NULL;
    size_t pathCapacity = 0;
    ssize_t pathLength = getline(&path, &pathCapacity, stdin);
    if (pathLength <= 0)
        return 1;
    path[withoutLineEnd(path, (size_t)pathLength)] = '\0';
    FILE *input = fopen(path, "r");
    if (!input)
        return 1;

    char *line = NULL;
    size_t lineCapacity = 0;
    char *card = NULL;
    size_t cardSize = 0;
    size_t cardCapacity = 0;
    char name[4096];
    int inCard = 0;
    ssize_t length;
    while ((length = getline(&line, &lineCapacity, input)) > 0) {
        const size_t text = withoutLineEnd(line, (size_t)length);
        if (text == 11 && memcmp(line, "BEGIN:VCARD", 11) == 0) {
            inCard = 1;
            cardSize = 0;
            name[0] = '\0';
        }
        if (!inCard)
            continue;
        if (cardSize + (size_t)length > cardCapacity) {
            cardCapacity = 2 * (cardSize + (size_t)length);
            card = realloc(card, cardCapacity);
            if (!card)
                return 1;
        }
        memcpy(card + cardSize, line, (size_t)length);
        cardSize += (size_t)length;
        if (text > 3 && memcmp(line, "FN:", 3) == 0 && text - 3 < sizeof name - 5) {
            memcpy(name, line + 3, text - 3);
            name[text - 3] = '\0';
        } else if (text == 9 && memcmp(line, "END:VCARD", 9) == 0) {
            inCard = 0;
            if (name[0] == '\0')
                continue;
            fputs(name, stdout);
            fputc('\n', stdout);
            fflush(stdout);
            strcat(name, ".vcf");
            const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (fd < 0)
                continue;
            if (write(fd, card, cardSize) < 0) {
                /* Nothing to do about it: the floor does no checking. */
            }
            close(fd);
        }
    }
    return 0;
}
