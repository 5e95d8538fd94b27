/* byte, short and word arrays: a byte sieve in nested while loops, a short filter, a heap */
char marks[6000];
short img[400];
short out[400];
int heap[300];
struct rec { short x; short y; int w; } recs[100];
int size;

void push(int v)
{
  int i, parent;
  i = size++;
  while (i > 0) {
    parent = (i - 1) / 2;
    if (heap[parent] <= v) break;
    heap[i] = heap[parent];
    i = parent;
  }
  heap[i] = v;
}

int pop()
{
  int top, last, i, child;
  top = heap[0];
  last = heap[--size];
  i = 0;
  while (1) {
    child = 2 * i + 1;
    if (child >= size) break;
    if (child + 1 < size && heap[child + 1] < heap[child]) child++;
    if (heap[child] >= last) break;
    heap[i] = heap[child];
    i = child;
  }
  heap[i] = last;
  return top;
}

int main()
{
  char *p, *q, *end;
  int i, j, k, count, total, run, longest;
  end = marks + 6000;
  p = marks;
  while (p < end) { *p = 0; p++; }
  i = 2;
  while (i * i < 6000) {
    if (marks[i] == 0) {
      q = marks + i * i;
      while (q < end) { *q = 1; q = q + i; }
    }
    i++;
  }
  count = 0;
  longest = 0;
  p = marks + 2;
  while (p < end) {
    run = 0;
    while (p < end && *p) { run++; p++; }
    if (run > longest) longest = run;
    if (p < end) { count++; p++; }
  }
  total = count * 100 + longest;
  for (i = 0; i < 400; i++) img[i] = (i * 37) % 201 - 100;
  for (i = 1; i < 19; i++)
    for (j = 1; j < 19; j++) {
      k = i * 20 + j;
      out[k] = (img[k - 21] + 2 * img[k - 20] + img[k - 19] + 2 * img[k - 1] + 4 * img[k] + 2 * img[k + 1]
                + img[k + 19] + 2 * img[k + 20] + img[k + 21]) / 16;
    }
  for (i = 0; i < 400; i++) total = total + out[i];
  for (i = 0; i < 100; i++) { recs[i].x = img[i * 3]; recs[i].y = i; recs[i].w = out[i * 2] * 3; }
  for (i = 0; i < 100; i++) total = total + recs[i].x * recs[99 - i].y + recs[i].w;
  size = 0;
  for (i = 0; i < 250; i++) push((i * 7919) % 1009);
  for (i = 0; i < 120; i++) total = total + pop() * (i & 3);
  return total;
}
