// The editor side of the vexl language: starts vexl-lsp for .vxl files and
// connects it to the editor through the protocol client library.
'use strict';
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

let client;

function activate(context) {
  const command = vscode.workspace.getConfiguration('vexl').get('server.path', 'vexl-lsp');
  const server = { command, args: ['--stdio'], transport: TransportKind.stdio };
  client = new LanguageClient('vexl', 'vexl language server', { run: server, debug: server }, {
    documentSelector: [{ language: 'vexl' }],
  });
  context.subscriptions.push(client);
  return client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
