/* structures through pointers: a binary search tree in a static node pool, and lists through it */
struct node { int key; struct node *left; struct node *right; struct node *next; };
struct node pool[6000];
int used;
int seed;

int next()
{
  seed = (seed * 75 + 74) % 65537;
  return seed;
}

/* adds key below root by walking down; returns the new node */
struct node *insert(struct node *root, int key)
{
  struct node *n, *cur;
  n = &pool[used];
  used++;
  n->key = key;
  n->left = 0;
  n->right = 0;
  n->next = 0;
  cur = root;
  while (cur) {
    if (key < cur->key) {
      if (!cur->left) { cur->left = n; break; }
      cur = cur->left;
    } else {
      if (!cur->right) { cur->right = n; break; }
      cur = cur->right;
    }
  }
  return n;
}

int depth_of(struct node *root, int key)
{
  int depth;
  depth = 0;
  while (root) {
    if (key == root->key) return depth;
    depth++;
    if (key < root->key) root = root->left; else root = root->right;
  }
  return -1;
}

struct node *reverse(struct node *head)
{
  struct node *prev, *n;
  prev = 0;
  while (head) {
    n = head->next;
    head->next = prev;
    prev = head;
    head = n;
  }
  return prev;
}

int work()
{
  struct node *root, *head, *n;
  int round, i, total, pos;
  total = 0;
  for (round = 0; round < 10; round++) {
    seed = round + 1;
    used = 0;
    root = insert(0, next());
    head = root;
    for (i = 1; i < 6000; i++) {
      n = insert(root, next());
      n->next = head;
      head = n;
    }
    for (i = 0; i < 12000; i++) total = total + depth_of(root, next());
    head = reverse(head);
    pos = 0;
    for (n = head; n; n = n->next) {
      pos++;
      if (n->left && n->right) total = total + pos % 7;
    }
    /* unlink every node whose key is odd */
    while (head && head->key % 2) head = head->next;
    for (n = head; n; n = n->next) {
      while (n->next && n->next->key % 2) n->next = n->next->next;
    }
    for (n = head; n; n = n->next) total = total + 1;
  }
  return total;
}
