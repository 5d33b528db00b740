/* SPDX-License-Identifier: GPL-3.0-or-later */
/* memhold FILE FILE_MB ANON_MB [SECONDS]: writes FILE_MB of FILE, maps it shared and reads
 * every page, touches ANON_MB of private anonymous memory, prints "ready <pid>" and then waits
 * until its standard input closes (at most 120 s), so the test that started it decides when
 * it ends; with SECONDS it ignores its input and waits that long (or for a signal).
 * SIGUSR1 reads every page again and prints "touched".
 * memhold --churn MB: maps, touches and unmaps MB of anonymous memory over and over, the
 * memory another program takes and gives back beside a release, until its input closes (at
 * most 120 s); prints "ready <pid>" after the first round. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static volatile sig_atomic_t g_touch;
static void onUsr1(int sig)
{
    (void)sig;
    g_touch = 1;
}

static long touchAll(volatile char* file, size_t fileBytes, volatile char* anon, size_t anonBytes)
{
    long sum = 0;
    for (size_t i = 0; i < fileBytes; i += 4096)
        sum += file[i];
    for (size_t i = 0; i < anonBytes; i += 4096)
        sum += anon[i];
    return sum;
}

static int churn(size_t bytes)
{
    const time_t until = time(NULL) + 120;
    int rounds = 0;
    while (time(NULL) < until) {
        volatile char* p =
            mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            perror("memhold: churn");
            return 1;
        }
        for (size_t i = 0; i < bytes; i += 4096)
            p[i] = 1;
        munmap((void*)p, bytes);
        if (++rounds == 1) {
            printf("ready %d churning\n", (int)getpid());
            fflush(stdout);
        }
        struct pollfd in = {0, POLLIN, 0};
        char c;
        if (poll(&in, 1, 0) > 0 && read(0, &c, 1) <= 0)
            break; /* the test closed our input */
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--churn") == 0)
        return churn((size_t)atol(argv[2]) << 20);
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: memhold FILE FILE_MB ANON_MB [SECONDS]\n");
        return 2;
    }
    const size_t fileBytes = (size_t)atol(argv[2]) << 20, anonBytes = (size_t)atol(argv[3]) << 20;
    volatile char *file = NULL, *anon = NULL;
    if (fileBytes) {
        int fd = open(argv[1], O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ftruncate(fd, (off_t)fileBytes) != 0) {
            perror("memhold: file");
            return 1;
        }
        char block[1 << 16];
        memset(block, 'v', sizeof block);
        for (size_t off = 0; off < fileBytes; off += sizeof block)
            if (pwrite(fd, block, sizeof block, (off_t)off) != (ssize_t)sizeof block) {
                perror("memhold: write");
                return 1;
            }
        fsync(fd); /* clean pages: paging them out needs no write-back */
        file = mmap(NULL, fileBytes, PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (file == MAP_FAILED) {
            perror("memhold: mmap file");
            return 1;
        }
    }
    if (anonBytes) {
        anon = mmap(NULL, anonBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (anon == MAP_FAILED) {
            perror("memhold: mmap anon");
            return 1;
        }
        for (size_t i = 0; i < anonBytes; i += 4096)
            anon[i] = (char)((i >> 12) | 1); /* distinct non-zero pages, nothing to merge */
    }
    signal(SIGUSR1, onUsr1);
    printf("ready %d sum=%ld\n", (int)getpid(), touchAll(file, fileBytes, anon, anonBytes));
    fflush(stdout);
    const int watchInput = argc == 4;
    const time_t until = time(NULL) + (watchInput ? 120 : atol(argv[4]));
    while (time(NULL) < until) {
        struct pollfd p = {watchInput ? 0 : -1, POLLIN, 0};
        const int n = poll(&p, 1, 200);
        if (g_touch) {
            g_touch = 0;
            printf("touched sum=%ld\n", touchAll(file, fileBytes, anon, anonBytes));
            fflush(stdout);
        }
        if (n > 0) {
            char c;
            if (read(0, &c, 1) <= 0)
                break; /* the test closed our input */
        }
    }
    if (fileBytes)
        unlink(argv[1]);
    return 0;
}
