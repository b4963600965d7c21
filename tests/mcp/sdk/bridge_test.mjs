// Drives tarvix-mcp with the official MCP TypeScript SDK against a real
// tarvix-agentd on a private X server.
//
//   node bridge_test.mjs <tarvix-mcp> <tarvix-agentd>
//
// Exits 77 (skipped) when Xvfb is missing.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, writeFileSync, rmSync, readFileSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import Ajv2020 from 'ajv/dist/2020.js';

const [bridgePath, daemonPath] = process.argv.slice(2).map((p) => p && path.resolve(p));
if (!bridgePath || !daemonPath) {
  console.error('usage: node bridge_test.mjs <tarvix-mcp> <tarvix-agentd>');
  process.exit(2);
}
if (spawnSync('sh', ['-c', 'command -v Xvfb']).status !== 0) {
  console.error('Xvfb not installed: skipped');
  process.exit(77);
}

const TOKEN = 'mcp-test-token-4f1c';
const SCREEN = { width: 1024, height: 768 };
const READ_ONLY_TOOLS = ['get_system_info', 'list_processes', 'list_dir', 'read_file', 'screenshot', 'ui_tree',
  'ui_snapshot', 'clipboard_read', 'list_windows', 'wait_for', 'batch', 'displays', 'capture', 'cursor'];
const MUTATING_TOOLS = ['write_file', 'run_command', 'kill_process', 'input', 'window_action', 'key_combo',
  'pointer', 'drag',
  'clipboard_write', 'ui_action', 'ui_set_value'];

const work = mkdtempSync(path.join(os.tmpdir(), 'tarvix-mcp-test-'));
const children = [];

function track(child) {
  children.push(child);
  return child;
}

function stop(child) {
  if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
}

async function startXvfb() {
  // The server picks a free display and writes its number to fd 3.
  const xvfb = track(spawn('Xvfb', ['-displayfd', '3', '-noreset', '-nolisten', 'tcp', '-screen', '0',
    `${SCREEN.width}x${SCREEN.height}x24`], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] }));
  const display = await new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error('Xvfb did not start')), 10000);
    xvfb.stdio[3].on('data', (data) => {
      text += data;
      if (text.includes('\n')) {
        clearTimeout(timer);
        resolve(`:${text.trim()}`);
      }
    });
    xvfb.on('exit', () => reject(new Error('Xvfb ended')));
  });
  return { xvfb, display };
}

async function freePort() {
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

async function waitForPort(port) {
  for (let i = 0; i < 100; i++) {
    const ok = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1');
      socket.on('connect', () => { socket.destroy(); resolve(true); });
      socket.on('error', () => resolve(false));
    });
    if (ok) return;
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  throw new Error(`daemon did not listen on ${port}`);
}

async function startDaemon({ exec, display }) {
  const port = await freePort();
  const args = ['--port', String(port), '--audit', path.join(work, `audit-${port}.jsonl`)];
  if (exec) args.push('--allow-exec');
  const daemon = track(spawn(daemonPath, args, {
    cwd: work,
    env: { PATH: process.env.PATH, HOME: work, DISPLAY: display, TARVIX_AGENTD_TOKEN: TOKEN },
    stdio: ['pipe', 'ignore', 'ignore'],
  }));
  await waitForPort(port);
  return { daemon, port };
}

async function connectBridge(port, token = TOKEN) {
  const transport = new StdioClientTransport({
    command: bridgePath,
    args: ['--port', String(port)],
    env: { TARVIX_AGENTD_TOKEN: token },
    stderr: 'pipe',
  });
  const client = new Client({ name: 'tarvix-mcp-test', version: '1.0.0' });
  await client.connect(transport);
  return client;
}

function textOf(result) {
  const texts = result.content.filter((item) => item.type === 'text');
  assert.equal(texts.length, 1, JSON.stringify(result.content));
  return texts[0].text;
}

function okStructured(result) {
  assert.equal(result.isError, false, textOf(result));
  assert.deepEqual(JSON.parse(textOf(result)), result.structuredContent);
  return result.structuredContent;
}

let display;
const fileText = 'tarvix\n'.repeat(585) + 'x'; // 4096 bytes
before(async () => {
  ({ display } = await startXvfb());
  writeFileSync(path.join(work, 'four-k.txt'), fileText);
  for (let i = 0; i < 8; i++) writeFileSync(path.join(work, `n${i}.txt`), `file ${i}`);
});

after(() => {
  for (const child of children.reverse()) stop(child);
  rmSync(work, { recursive: true, force: true });
});

describe('read-only daemon', () => {
  let daemon, port, client;
  before(async () => {
    ({ daemon, port } = await startDaemon({ exec: false, display }));
    client = await connectBridge(port);
  });
  after(async () => { await client?.close(); stop(daemon); });

  test('initialize names the daemon and the newest protocol version', () => {
    assert.deepEqual(client.getServerVersion(),
      { name: 'tarvix-agentd', title: 'Tarvix agent daemon', version: '0.1.0' });
    assert.deepEqual(client.getServerCapabilities(), { tools: { listChanged: false } });
    assert.match(client.getInstructions(), /--allow-exec/);
  });

  test('lists only the read-only tools, each with a valid schema and hints', async () => {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), READ_ONLY_TOOLS);
    const ajv = new Ajv2020({ strict: true });
    for (const tool of tools) {
      assert.equal(tool.inputSchema.type, 'object');
      ajv.compile(tool.inputSchema); // throws on an invalid schema
      assert.ok(tool.title && tool.description.length > 80, tool.name);
      assert.equal(tool.annotations.readOnlyHint, true);
      assert.equal(tool.annotations.openWorldHint, false);
    }
  });

  test('read_file returns the file as structured content and as text', async () => {
    const result = await client.callTool({ name: 'read_file', arguments: { path: 'four-k.txt' } });
    assert.deepEqual(okStructured(result), { bytes: 4096, content: fileText, path: 'four-k.txt' });
  });

  test('list_dir lists the directory', async () => {
    const result = await client.callTool({ name: 'list_dir', arguments: { path: work } });
    const names = okStructured(result).entries.map((e) => e.name).sort();
    assert.ok(names.includes('four-k.txt') && names.includes('n7.txt'), names.join(','));
  });

  test('daemon errors come back as tool errors with the daemon message', async () => {
    const cases = [
      [{ name: 'read_file', arguments: { path: 'missing.txt' } },
        'stat failed: No such file or directory (os error 2)'],
      [{ name: 'read_file', arguments: {} }, 'missing param: path'],
      [{ name: 'run_command', arguments: { command: 'true' } },
        'run_command is disabled (read-only mode; start with --allow-exec)'],
    ];
    for (const [call, message] of cases) {
      const result = await client.callTool(call);
      assert.equal(result.isError, true);
      assert.equal(textOf(result), message);
      assert.equal(result.structuredContent, undefined);
    }
  });

  test('an unknown tool is a protocol error', async () => {
    await assert.rejects(client.callTool({ name: 'ping', arguments: {} }), /Unknown tool: ping/);
  });

  test('screenshot is a PNG image item of the X screen', async () => {
    const result = await client.callTool({ name: 'screenshot', arguments: {} });
    assert.equal(result.isError, false, JSON.stringify(result.content).slice(0, 300));
    const image = result.content.find((item) => item.type === 'image');
    assert.equal(image.mimeType, 'image/png');
    const png = Buffer.from(image.data, 'base64');
    assert.deepEqual([...png.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
    assert.equal(png.toString('latin1', 12, 16), 'IHDR');
    assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [SCREEN.width, SCREEN.height]);
    assert.deepEqual(JSON.parse(textOf(result)),
      { bytes: png.length, format: 'png', height: SCREEN.height, width: SCREEN.width });
  });

  test('concurrent calls each get their own answer', async () => {
    const calls = [];
    for (let round = 0; round < 3; round++) {
      for (let i = 0; i < 8; i++) {
        calls.push(client.callTool({ name: 'read_file', arguments: { path: `n${i}.txt` } })
          .then((result) => assert.equal(result.structuredContent.content, `file ${i}`)));
      }
      calls.push(client.callTool({ name: 'get_system_info', arguments: {} })
        .then((result) => assert.ok(okStructured(result).cpu_cores >= 1)));
    }
    await Promise.all(calls);
  });

  test('a stopped daemon is reported as unreachable', async () => {
    stop(daemon);
    await new Promise((resolve) => daemon.exitCode !== null || daemon.signalCode !== null
      ? resolve() : daemon.on('exit', resolve));
    const result = await client.callTool({ name: 'read_file', arguments: { path: 'four-k.txt' } });
    assert.equal(result.isError, true);
    assert.equal(textOf(result), `cannot reach tarvix-agentd at 127.0.0.1:${port}: ` +
      'Connection refused (os error 111) (start it, or pass --port)');
    // Without a daemon to ask, only the read-only tools are offered.
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), READ_ONLY_TOOLS);
  });
});

describe('exec-mode daemon', () => {
  let daemon, port, client;
  before(async () => {
    ({ daemon, port } = await startDaemon({ exec: true, display }));
    client = await connectBridge(port);
  });
  after(async () => { await client?.close(); stop(daemon); });

  test('lists the mutating tools too, with their hints', async () => {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((t) => t.name), [...READ_ONLY_TOOLS, ...MUTATING_TOOLS]);
    for (const tool of tools.filter((t) => MUTATING_TOOLS.includes(t.name))) {
      assert.equal(tool.annotations.readOnlyHint, false, tool.name);
      assert.equal(tool.annotations.destructiveHint, true, tool.name);
    }
    // A batch of an exec-mode daemon may hold any step.
    assert.equal(tools.find((t) => t.name === 'batch').annotations.readOnlyHint, false);
    const input = tools.find((t) => t.name === 'input');
    assert.deepEqual(input.inputSchema.properties.action.enum,
      ['move', 'click', 'double_click', 'scroll', 'type', 'key']);
  });

  test('run_command and write_file run', async () => {
    const run = await client.callTool({ name: 'run_command', arguments: { command: 'echo hi; echo err >&2; exit 3' } });
    assert.deepEqual(okStructured(run), { exit_code: 3, stderr: 'err\n', stdout: 'hi\n' });
    const write = await client.callTool({ name: 'write_file', arguments: { path: 'out.txt', content: 'héllo' } });
    assert.deepEqual(okStructured(write), { bytes_written: 6, path: 'out.txt' });
    assert.equal(readFileSync(path.join(work, 'out.txt'), 'utf8'), 'héllo');
  });

  test('a long call reports progress at least every 2 s and does not hold up others', async () => {
    const started = Date.now();
    const progress = [];
    const slow = client.callTool({ name: 'run_command', arguments: { command: 'sleep 3.5; echo done' } },
      undefined, { onprogress: (p) => progress.push({ at: Date.now() - started, ...p }) })
      .then((result) => ({ result, at: Date.now() - started }));
    const quick = await client.callTool({ name: 'read_file', arguments: { path: 'n1.txt' } });
    assert.ok(Date.now() - started < 1500, 'read_file waited for run_command');
    assert.equal(quick.structuredContent.content, 'file 1');
    const { result, at } = await slow;
    assert.equal(okStructured(result).stdout, 'done\n');
    assert.ok(progress.length >= 2, JSON.stringify(progress));
    const times = [0, ...progress.map((p) => p.at), at];
    for (let i = 1; i < times.length; i++) assert.ok(times[i] - times[i - 1] <= 2000, JSON.stringify(times));
    for (let i = 1; i < progress.length; i++) assert.ok(progress[i].progress > progress[i - 1].progress);
  });

  test('a wrong token is reported with the variable that fixes it', async () => {
    const wrong = await connectBridge(port, 'not-the-token');
    try {
      const result = await wrong.callTool({ name: 'get_system_info', arguments: {} });
      assert.equal(result.isError, true);
      assert.match(textOf(result), /^unauthorized .*TARVIX_AGENTD_TOKEN/);
    } finally {
      await wrong.close();
    }
  });
});
