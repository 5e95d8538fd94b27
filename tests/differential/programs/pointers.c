/* structures through pointers: a search tree in a node pool, lists through it, chained hashing */
struct node { int key; short height; short visits; struct node *left; struct node *right; struct node *next; };
struct node pool[700];
struct node *buckets[32];
int used;
int seed;

int next() { seed = (seed * 75 + 74) % 65537; return seed; }

struct node *insert(struct node *root, int key)
{
  struct node *n, *cur;
  n = &pool[used++];
  n->key = key;
  n->height = 1;
  n->visits = 0;
  n->left = 0;
  n->right = 0;
  n->next = 0;
  cur = root;
  while (cur) {
    cur->visits++;
    if (key < cur->key) {
      if (!cur->left) { cur->left = n; n->height = cur->height + 1; break; }
      cur = cur->left;
    } else {
      if (!cur->right) { cur->right = n; n->height = cur->height + 1; break; }
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
    root = key < root->key ? root->left : root->right;
  }
  return -1;
}

struct node *reverse(struct node *head)
{
  struct node *prev, *n;
  prev = 0;
  while (head) { n = head->next; head->next = prev; prev = head; head = n; }
  return prev;
}

int main()
{
  struct node *root, *head, *n, **at;
  int i, total;
  seed = 3;
  used = 0;
  total = 0;
  root = insert(0, next() % 1000);
  head = root;
  for (i = 1; i < 600; i++) { n = insert(root, next() % 1000); n->next = head; head = n; }
  for (i = 0; i < 800; i++) total = total + depth_of(root, next() % 1000);
  head = reverse(head);
  for (n = head; n; n = n->next) total = total + n->height * 3 + n->visits;
  while (head && head->key % 3 == 0) head = head->next;
  for (n = head; n; n = n->next)
    while (n->next && n->next->key % 3 == 0) n->next = n->next->next;
  for (n = head; n; n = n->next) total++;
  for (i = 0; i < 32; i++) buckets[i] = 0;
  for (i = 0; i < used; i++) {
    at = &buckets[pool[i].key & 31];
    while (*at && (*at)->key < pool[i].key) at = &(*at)->next;
    pool[i].next = *at;
    *at = &pool[i];
  }
  for (i = 0; i < 32; i++) for (n = buckets[i]; n; n = n->next) total = total + (n->key & 7);
  return total;
}
