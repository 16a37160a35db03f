import http from 'node:http';

// An OpenAI-compatible server on a loopback port whose behaviour each test
// scripts through `respond(request, res)`. It records every request.
export async function startFakeUpstream() {
  const upstream = {
    requests: [],
    respond: (request, res) => res.writeHead(500).end(),
  };
  const server = http.createServer(async (req, res) => {
    const chunks = [];
    for await (const chunk of req) chunks.push(chunk);
    const body = Buffer.concat(chunks);
    const request = { method: req.method, path: req.url, headers: req.headers, body };
    if ((req.headers['content-type'] ?? '').startsWith('application/json')) {
      request.json = JSON.parse(body.toString('utf8'));
    }
    upstream.requests.push(request);
    upstream.respond(request, res);
  });
  upstream.connections = 0;
  server.on('connection', () => {
    upstream.connections += 1;
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  upstream.url = `http://127.0.0.1:${server.address().port}/v1`;
  upstream.close = () =>
    new Promise((resolve) => {
      server.closeAllConnections();
      server.close(resolve);
    });
  return upstream;
}

export function chunkLine(content, finishReason = null) {
  const chunk = {
    id: 'chatcmpl-fake',
    object: 'chat.completion.chunk',
    choices: [{ index: 0, delta: content === undefined ? {} : { content }, finish_reason: finishReason }],
  };
  return `data: ${JSON.stringify(chunk)}\n\n`;
}

export function startEventStream(res) {
  res.writeHead(200, { 'content-type': 'text/event-stream' });
  res.flushHeaders();
}

// Writes the pieces as a complete streamed completion, waiting `pauseMs`
// (or for the promise `gate(i)` returns) before each piece after the first.
export async function streamPieces(res, pieces, { pauseMs = 0, gate } = {}) {
  startEventStream(res);
  res.write(`data: ${JSON.stringify({ choices: [{ index: 0, delta: { role: 'assistant', content: '' } }] })}\n\n`);
  for (const [index, piece] of pieces.entries()) {
    if (index > 0 && gate) await gate(index);
    else if (index > 0 && pauseMs) await new Promise((resolve) => setTimeout(resolve, pauseMs));
    res.write(chunkLine(piece));
  }
  res.write(chunkLine(undefined, 'stop'));
  res.end('data: [DONE]\n\n');
}

// Pulls the multipart form a transcription request carries apart.
export function parseMultipart(request) {
  const boundary = /boundary=(?:"([^"]+)"|([^;]+))/.exec(request.headers['content-type']);
  const delimiter = Buffer.from(`--${boundary[1] ?? boundary[2]}`);
  const parts = {};
  let start = request.body.indexOf(delimiter) + delimiter.length;
  for (;;) {
    const end = request.body.indexOf(delimiter, start);
    if (end < 0) break;
    const part = request.body.subarray(start + 2, end - 2);
    const headerEnd = part.indexOf('\r\n\r\n');
    const head = part.subarray(0, headerEnd).toString('utf8');
    const name = /name="([^"]+)"/.exec(head)[1];
    parts[name] = {
      filename: /filename="([^"]+)"/.exec(head)?.[1],
      type: /content-type:\s*([^\r\n]+)/i.exec(head)?.[1],
      data: part.subarray(headerEnd + 4),
    };
    start = end + delimiter.length;
  }
  return parts;
}
