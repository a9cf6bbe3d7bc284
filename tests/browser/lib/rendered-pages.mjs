// Shared set-up of the page suites: where an extension's built resources are, a scratch folder,
// why a suite must be skipped (resources or driver not built), and rendering a fixture with the
// extension's renderer driver (tools/render-markdown, tools/render-notebook).

import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { buildDir, extensionResourcesDir } from './browser.mjs';

// extension: 'MarkdownLens' | 'NotebookLens'; template: the template's file name; tool: the
// driver's name in <build>/tools (overridable through the environment variable toolEnv);
// fixtures: the folder of input documents; fileExtension: theirs, with the dot.
export function renderedPages({ extension, template, tool, toolEnv, fixtures, fileExtension }) {
  const renderTool = process.env[toolEnv] || path.join(buildDir(), 'tools', tool);
  const resources = extensionResourcesDir(extension);
  const scratch = mkdtempSync(path.join(os.tmpdir(), `lumivale-${extension.toLowerCase()}-`));
  const resourcesSkip = existsSync(path.join(resources, template))
    ? false
    : `page resources not built: ${resources}`;
  const skipReason =
    resourcesSkip || (existsSync(renderTool) ? false : `renderer tool not built: ${renderTool}`);

  // Renders fixtures/<name><fileExtension> to a page in the scratch folder; returns its path.
  function renderFixture(name) {
    const output = path.join(scratch, `${name}.html`);
    execFileSync(renderTool, [path.join(fixtures, `${name}${fileExtension}`), output], { stdio: 'pipe' });
    return output;
  }

  return { resources, scratch, resourcesSkip, skipReason, renderTool, renderFixture };
}
