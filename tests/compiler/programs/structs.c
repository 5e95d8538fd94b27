/* structures, unions, member access through pointers */
struct node { int value; struct node *next; };
union word { int i; char c[4]; short h[2]; };
struct node pool[8];
int sum(struct node *n) { int s; s = 0; while (n) { s = s + n->value; n = n->next; } return s; }
int main()
{
  int i;
  union word w;
  for (i = 0; i < 8; i++) {
    pool[i].value = i * i;
    pool[i].next = i < 7 ? &pool[i + 1] : 0;
  }
  w.i = 0x01020304;
  return sum(&pool[2]) + w.c[0] * 1000 + w.h[1] * 10;
}
