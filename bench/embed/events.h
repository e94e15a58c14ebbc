/* The events every embed host feeds its handler, and the clock they time themselves with.
   Each host calls the handler N times with (event number, log line, IPv4 address); the
   texts come from small pools made before the clock starts, so that the loop measures the
   host-to-script call and not the formatting of test data. Shared by the C hosts and the
   C++ one, so that all three see the very same events. */
#ifndef ORVA_BENCH_EVENTS_H
#define ORVA_BENCH_EVENTS_H

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define LINE_POOL 64
#define ADDRESS_POOL 61
#define TEXT_SIZE 96

static char g_lines[LINE_POOL][TEXT_SIZE];
static char g_addresses[ADDRESS_POOL][TEXT_SIZE];

static inline void makeEvents(void)
{
   for (int k = 0; k < LINE_POOL; k++)
   {
      if (k % 5 == 0)
         snprintf(g_lines[k], TEXT_SIZE, "admin GET /config/%d HTTP/1.1 200", k);
      else
         snprintf(g_lines[k], TEXT_SIZE, "user%d GET /item/%d?page=%d HTTP/1.1 %d", k, k * 37,
                  k % 9, k % 7 == 0 ? 404 : 200);
   }
   for (int k = 0; k < ADDRESS_POOL; k++)
      snprintf(g_addresses[k], TEXT_SIZE, "10.%d.%d.%d", (k * 41) % 256, (k * 7) % 256, k + 1);
}

static inline const char *eventLine(long i) { return g_lines[i % LINE_POOL]; }
static inline const char *eventAddress(long i) { return g_addresses[(i * 7) % ADDRESS_POOL]; }

/* The handler's source text, read whole; exits on failure. */
static inline char *readSource(const char *path)
{
   FILE *file = fopen(path, "rb");
   if (file == NULL)
   {
      fprintf(stderr, "cannot open %s\n", path);
      exit(2);
   }
   fseek(file, 0, SEEK_END);
   long size = ftell(file);
   fseek(file, 0, SEEK_SET);
   char *text = (char *)malloc(size + 1);
   if (text == NULL || fread(text, 1, size, file) != (size_t)size)
   {
      fprintf(stderr, "cannot read %s\n", path);
      exit(2);
   }
   text[size] = 0;
   fclose(file);
   return text;
}

static inline long eventCount(int argc, char **argv)
{
   if (argc < 2)
   {
      fprintf(stderr, "usage: %s HANDLER [EVENTS]\n", argv[0]);
      exit(2);
   }
   return argc > 2 ? atol(argv[2]) : 500000;
}

static inline double now(void)
{
   struct timespec t;
   clock_gettime(CLOCK_MONOTONIC, &t);
   return t.tv_sec + t.tv_nsec * 1e-9;
}

/* The checksum line bench/run compares across languages, then the host's own timing of
   its event loop, which bench/run takes instead of the process's wall-clock time. */
static inline void report(long events, long checksum, double seconds)
{
   printf("embed %ld %ld\n", events, checksum);
   printf("seconds %.6f\n", seconds);
}

#endif
