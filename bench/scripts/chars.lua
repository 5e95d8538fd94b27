-- char pointers: the text is an array of byte values and a pointer is an index into it
local text, copy = {}, {}
local seed

local function next_value()
  seed = (seed * 75 + 74) % 65537
  return seed
end

local function make_text(words)
  local p = 0
  for w = 1, words do
    local len = 3 + next_value() % 8
    for k = 1, len do text[p] = 97 + next_value() % 26; p = p + 1 end
    text[p] = 32
    p = p + 1
  end
  text[p] = 0
end

local function length(s, at)
  local p = at
  while s[p] ~= 0 do p = p + 1 end
  return p - at
end

local function copy_text(d, s)
  local i = 0
  while s[i] ~= 0 do d[i] = s[i]; i = i + 1 end
  d[i] = 0
end

local function hash(s)
  local h, i = 0, 0
  while s[i] ~= 0 do h = (h * 31 + s[i]) & 0xffffffff; i = i + 1 end
  return h
end

local function sort_words(s)
  local words, i = 0, 0
  while s[i] ~= 0 do
    local w = i
    while s[i] ~= 0 and s[i] ~= 32 do i = i + 1 end
    for p = w + 1, i - 1 do
      local q = p
      while q > w and s[q - 1] > s[q] do s[q], s[q - 1] = s[q - 1], s[q]; q = q - 1 end
    end
    words = words + 1
    if s[i] ~= 0 then i = i + 1 end
  end
  return words
end

local function bubble(s, at, n)
  local swapped = true
  local last = at + n - 1
  while swapped do
    swapped = false
    for p = at, last - 1 do
      if s[p] > s[p + 1] then s[p], s[p + 1] = s[p + 1], s[p]; swapped = true end
    end
    last = last - 1
  end
end

function work()
  seed = 1
  make_text(900)
  local n = length(text, 0)
  local total, h = 0, 0
  for round = 0, 79 do
    copy_text(copy, text)
    total = total + length(copy, 0)
    h = h ~ hash(copy)
    total = total + sort_words(copy)
    h = (h + hash(copy)) & 0xffffffff
    local k = round * 97 % 64
    while k + 96 < n do bubble(copy, k, 96); k = k + 1000 end
    h = (h * 7 + hash(copy)) & 0xffffffff
  end
  return total + (h & 0xffff)
end
