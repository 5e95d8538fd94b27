-- a priority queue: a binary heap of timed events in parallel arrays, run as a small simulation
local heap_time, heap_id, fired = {}, {}, {}
local size, seed

local function next_value()
  seed = (seed * 75 + 74) % 65537
  return seed
end

local function push(time, id)
  local i = size
  size = size + 1
  while i > 0 do
    local parent = (i - 1) // 2
    if heap_time[parent] <= time then break end
    heap_time[i] = heap_time[parent]
    heap_id[i] = heap_id[parent]
    i = parent
  end
  heap_time[i] = time
  heap_id[i] = id
end

local function pop()
  local id, when = heap_id[0], heap_time[0]
  size = size - 1
  local last_time, last_id = heap_time[size], heap_id[size]
  local i = 0
  while true do
    local child = 2 * i + 1
    if child >= size then break end
    if child + 1 < size and heap_time[child + 1] < heap_time[child] then child = child + 1 end
    if heap_time[child] >= last_time then break end
    heap_time[i] = heap_time[child]
    heap_id[i] = heap_id[child]
    i = child
  end
  heap_time[i] = last_time
  heap_id[i] = last_id
  return id, when
end

function work()
  seed = 7
  size = 0
  local total = 0
  for i = 0, 511 do fired[i] = 0 end
  for i = 0, 2999 do push(next_value() % 1000, i % 512) end
  for steps = 0, 149999 do
    local id, now = pop()
    fired[id] = fired[id] + 1
    total = (total + now % 1000 + fired[id]) % 1000000
    push(now + 1 + next_value() % 500, (id * 7 + 1) % 512)
  end
  for i = 0, 511 do total = total + fired[i] * (i % 3) end
  return total
end
