/* A minimal package stub: it finds the archive appended to its own file and
   lists where it starts. A real stub would unpack and install the package. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static unsigned long ReadLe32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | ((unsigned long)p[2] << 16) | ((unsigned long)p[3] << 24);
}

int main(void) {
  char self[MAX_PATH];
  if (!GetModuleFileNameA(NULL, self, sizeof self)) return 1;
  FILE* f = fopen(self, "rb");
  if (!f) return 1;
  unsigned char tail[22];
  if (fseek(f, -22, SEEK_END) != 0 || fread(tail, 1, 22, f) != 22 ||
      memcmp(tail, "PK\5\6", 4) != 0) {
    puts("no package attached");
    fclose(f);
    return 2;
  }
  printf("package directory at offset %lu\n", ReadLe32(tail + 16));
  fclose(f);
  return 0;
}
