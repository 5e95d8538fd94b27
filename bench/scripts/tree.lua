-- structures through references: a binary search tree in a node pool, and lists through it
local pool = {}
for i = 1, 6000 do pool[i] = {key = 0, left = false, right = false, next = false} end
local used, seed

local function next_value()
  seed = (seed * 75 + 74) % 65537
  return seed
end

local function insert(root, key)
  used = used + 1
  local n = pool[used]
  n.key = key
  n.left = false
  n.right = false
  n.next = false
  local cur = root
  while cur do
    if key < cur.key then
      if not cur.left then cur.left = n; break end
      cur = cur.left
    else
      if not cur.right then cur.right = n; break end
      cur = cur.right
    end
  end
  return n
end

local function depth_of(root, key)
  local depth = 0
  while root do
    if key == root.key then return depth end
    depth = depth + 1
    if key < root.key then root = root.left else root = root.right end
  end
  return -1
end

local function reverse(head)
  local prev = false
  while head do
    local n = head.next
    head.next = prev
    prev = head
    head = n
  end
  return prev
end

function work()
  local total = 0
  for round = 0, 9 do
    seed = round + 1
    used = 0
    local root = insert(false, next_value())
    local head = root
    for i = 1, 5999 do
      local n = insert(root, next_value())
      n.next = head
      head = n
    end
    for i = 0, 11999 do total = total + depth_of(root, next_value()) end
    head = reverse(head)
    local pos = 0
    local n = head
    while n do
      pos = pos + 1
      if n.left and n.right then total = total + pos % 7 end
      n = n.next
    end
    while head and head.key % 2 == 1 do head = head.next end
    n = head
    while n do
      while n.next and n.next.key % 2 == 1 do n.next = n.next.next end
      n = n.next
    end
    n = head
    while n do total = total + 1; n = n.next end
  end
  return total
end
