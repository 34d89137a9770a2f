/*
 * A host that appends through the library's exports until it is killed,
 * for the crash test (crash.py).
 *
 *   appender TABLE create   makes TABLE with the fields ID N(10) and TEXT C(20)
 *   appender TABLE append   opens TABLE for appending and appends record after
 *                           record, record i holding i and "record i"; after
 *                           each append that answered 1 it writes i (4 bytes,
 *                           little-endian) to standard output
 *   appender TABLE count    prints the record count the library reads
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "hyl.h"

static int ack(int32_t index) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = (unsigned char)((uint32_t)index >> (8 * i));
    return write(1, bytes, 4) == 4;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: appender TABLE create|append|count\n");
        return 2;
    }
    const char* table = argv[1];
    if (strcmp(argv[2], "create") == 0)
        return !(Hyl_CreateDbf(2, table) && Hyl_CreateNewField(0, 10, "ID", "N", 0) &&
                 Hyl_CreateNewField(1, 20, "TEXT", "C", 0));
    if (strcmp(argv[2], "count") == 0) {
        if (!Hyl_OpenTableForRead(table)) return 1;
        printf("%d\n", Hyl_GetQRecords());
        return 0;
    }
    if (!Hyl_OpenTableForAppend(table)) return 1;
    for (int32_t i = Hyl_GetQRecords();; ++i) {
        char id[16], text[24];
        snprintf(id, sizeof id, "%10d", (int)i);
        snprintf(text, sizeof text, "record %d", (int)i);
        Hyl_PutField(id, 0);
        Hyl_PutField(text, 1);
        if (!Hyl_AppendRecord() || !ack(i)) return 1;
    }
}
