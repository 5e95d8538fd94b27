/* a priority queue: a binary heap of timed events in parallel arrays, run as a small simulation */
int heap_time[4096];
int heap_id[4096];
short fired[512];
int size;
int seed;

int next()
{
  seed = (seed * 75 + 74) % 65537;
  return seed;
}

void push(int time, int id)
{
  int i, parent;
  i = size;
  size++;
  while (i > 0) {
    parent = (i - 1) / 2;
    if (heap_time[parent] <= time) break;
    heap_time[i] = heap_time[parent];
    heap_id[i] = heap_id[parent];
    i = parent;
  }
  heap_time[i] = time;
  heap_id[i] = id;
}

/* removes the earliest event: returns its id and stores its time in *when */
int pop(int *when)
{
  int id, i, child, last_time, last_id;
  id = heap_id[0];
  *when = heap_time[0];
  size--;
  last_time = heap_time[size];
  last_id = heap_id[size];
  i = 0;
  while (1) {
    child = 2 * i + 1;
    if (child >= size) break;
    if (child + 1 < size && heap_time[child + 1] < heap_time[child]) child++;
    if (heap_time[child] >= last_time) break;
    heap_time[i] = heap_time[child];
    heap_id[i] = heap_id[child];
    i = child;
  }
  heap_time[i] = last_time;
  heap_id[i] = last_id;
  return id;
}

int work()
{
  int i, id, now, total, steps;
  seed = 7;
  size = 0;
  total = 0;
  for (i = 0; i < 512; i++) fired[i] = 0;
  for (i = 0; i < 3000; i++) push(next() % 1000, i % 512);
  for (steps = 0; steps < 150000; steps++) {
    id = pop(&now);
    fired[id]++;
    total = (total + now % 1000 + fired[id]) % 1000000;
    push(now + 1 + next() % 500, (id * 7 + 1) % 512);
  }
  for (i = 0; i < 512; i++) total = total + fired[i] * (i % 3);
  return total;
}
