// Reads a parsed notebook (nbformat 4, or the older nbformat 3 with worksheets) into one uniform
// model that the viewer lays out. Nothing here trusts the shape of the input: every member is
// checked, and whatever does not fit is kept as a `problem` note so the page can say so instead
// of failing.
//
//   readNotebook(value) -> { ok: true, notebook } | { ok: false, message }
//   notebook = { nbformat, language, kernelName, cells: Cell[], problems: string[] }
//   Cell     = { index, type: 'code'|'markdown'|'raw'|'unknown', source, executionCount,
//                outputs: Output[], attachments, problem }
//   Output   = { kind: 'stream'|'data'|'error'|'unknown', name, data, executionCount,
//                isResult, ename, evalue, traceback, outputType, problem }

// The text of a field that may be a string or an array of strings (lines). Other shapes give a
// readable rendering rather than nothing.
export function joinText(value) {
  if (typeof value === 'string') return value;
  if (value === undefined || value === null) return '';
  if (Array.isArray(value)) {
    return value.map((item) => (typeof item === 'string' ? item : describeValue(item))).join('');
  }
  return describeValue(value);
}

export function describeValue(value) {
  if (typeof value === 'string') return value;
  try {
    return JSON.stringify(value) ?? String(value);
  } catch {
    return String(value);
  }
}

function isObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

function executionCountOf(value) {
  return Number.isInteger(value) && value >= 0 ? value : null;
}

// MIME keys of nbformat 3 outputs, which sit on the output itself instead of under "data".
const legacyMimeKeys = {
  text: 'text/plain',
  html: 'text/html',
  svg: 'image/svg+xml',
  png: 'image/png',
  jpeg: 'image/jpeg',
  jpg: 'image/jpeg',
  gif: 'image/gif',
  latex: 'text/latex',
  markdown: 'text/markdown',
  json: 'application/json',
  javascript: 'application/javascript',
  pdf: 'application/pdf',
};

function legacyData(output) {
  const data = {};
  for (const [key, mime] of Object.entries(legacyMimeKeys)) {
    if (key in output) data[mime] = output[key];
  }
  // Some v3 writers already used full MIME keys.
  for (const [key, value] of Object.entries(output)) {
    if (key.includes('/') && !(key in data)) data[key] = value;
  }
  return data;
}

function readOutput(raw, legacy) {
  if (!isObject(raw)) {
    return { kind: 'unknown', problem: `An output of an unexpected shape (${describeValue(raw).slice(0, 200)}).` };
  }
  const outputType = typeof raw.output_type === 'string' ? raw.output_type : '';
  switch (outputType) {
    case 'stream': {
      // v4 uses "name", v3 "stream".
      const name = typeof raw.name === 'string' ? raw.name : typeof raw.stream === 'string' ? raw.stream : 'stdout';
      return { kind: 'stream', name, text: joinText(raw.text), outputType };
    }
    case 'error':
    case 'pyerr':
      return {
        kind: 'error',
        outputType,
        ename: typeof raw.ename === 'string' ? raw.ename : '',
        evalue: typeof raw.evalue === 'string' ? raw.evalue : joinText(raw.evalue),
        traceback: Array.isArray(raw.traceback)
          ? raw.traceback.map((line) => joinText(line))
          : raw.traceback === undefined || raw.traceback === null
            ? []
            : [joinText(raw.traceback)],
      };
    case 'execute_result':
    case 'pyout':
    case 'display_data':
    case 'update_display_data': {
      let data = isObject(raw.data) ? raw.data : null;
      if (!data && (legacy || outputType === 'pyout' || !('data' in raw))) data = legacyData(raw);
      const output = {
        kind: 'data',
        outputType,
        isResult: outputType === 'execute_result' || outputType === 'pyout',
        executionCount: executionCountOf(raw.execution_count ?? raw.prompt_number),
        data: data || {},
        metadata: isObject(raw.metadata) ? raw.metadata : {},
      };
      if (!data) output.problem = 'This output has data of an unexpected shape.';
      return output;
    }
    default: {
      // An unknown output type may still carry displayable data.
      if (isObject(raw.data)) {
        return { kind: 'data', outputType, isResult: false, executionCount: null, data: raw.data, metadata: {} };
      }
      if ('text' in raw) return { kind: 'stream', name: 'stdout', text: joinText(raw.text), outputType };
      return {
        kind: 'unknown',
        outputType,
        problem: outputType
          ? `Output type "${outputType}" is not shown in the preview.`
          : 'An output without a type is not shown in the preview.',
      };
    }
  }
}

function readAttachments(value) {
  return isObject(value) ? value : null;
}

export function readCell(raw, index, legacy) {
  if (!isObject(raw)) {
    return {
      index,
      type: 'unknown',
      source: describeValue(raw),
      outputs: [],
      executionCount: null,
      problem: 'This cell has an unexpected shape.',
    };
  }
  const cellType = typeof raw.cell_type === 'string' ? raw.cell_type : '';
  const cell = {
    index,
    type: 'unknown',
    source: joinText(raw.source ?? raw.input),
    executionCount: null,
    outputs: [],
    attachments: readAttachments(raw.attachments),
    metadata: isObject(raw.metadata) ? raw.metadata : {},
  };
  switch (cellType) {
    case 'code': {
      cell.type = 'code';
      cell.source = joinText(legacy && 'input' in raw ? raw.input : raw.source ?? raw.input);
      cell.executionCount = executionCountOf(raw.execution_count ?? raw.prompt_number);
      if (typeof raw.language === 'string') cell.language = raw.language;
      if (Array.isArray(raw.outputs)) {
        cell.outputs = raw.outputs.map((output) => readOutput(output, legacy));
      } else if (raw.outputs !== undefined && raw.outputs !== null) {
        cell.outputs = [{ kind: 'unknown', problem: 'This cell\'s outputs have an unexpected shape.' }];
      }
      break;
    }
    case 'markdown':
      cell.type = 'markdown';
      break;
    case 'heading': {
      // nbformat 3 heading cells become Markdown headings.
      const level = Number.isInteger(raw.level) ? Math.min(Math.max(raw.level, 1), 6) : 1;
      cell.type = 'markdown';
      cell.source = `${'#'.repeat(level)} ${cell.source.replace(/\n/g, ' ')}`;
      break;
    }
    case 'raw':
      cell.type = 'raw';
      break;
    default:
      cell.type = 'unknown';
      cell.problem = cellType ? `Cell type "${cellType}" is shown as plain text.` : 'A cell without a type is shown as plain text.';
  }
  return cell;
}

// The kernel language the metadata names, or null when it names none.
export function metadataLanguage(metadata) {
  const candidates = [];
  if (isObject(metadata)) {
    if (isObject(metadata.kernelspec)) candidates.push(metadata.kernelspec.language);
    if (isObject(metadata.language_info)) candidates.push(metadata.language_info.name);
    candidates.push(metadata.language);
  }
  const found = candidates.find((candidate) => typeof candidate === 'string' && candidate.trim());
  return found ? found.trim().toLowerCase() : null;
}

function languageOf(metadata, legacyCells) {
  const named = metadataLanguage(metadata);
  if (named) return named;
  const firstLegacy = legacyCells.find((cell) => cell.type === 'code' && cell.language);
  return firstLegacy && firstLegacy.language.trim() ? firstLegacy.language.trim().toLowerCase() : 'python';
}

function kernelNameOf(metadata) {
  if (!isObject(metadata)) return '';
  const spec = metadata.kernelspec;
  if (isObject(spec)) {
    if (typeof spec.display_name === 'string' && spec.display_name.trim()) return spec.display_name.trim();
    if (typeof spec.name === 'string' && spec.name.trim()) return spec.name.trim();
  }
  return '';
}

export function readNotebook(value) {
  if (!isObject(value)) {
    const what = Array.isArray(value) ? 'a JSON array' : `a JSON ${value === null ? 'null' : typeof value}`;
    return { ok: false, message: `This file is valid JSON, but not a Jupyter notebook: its top level is ${what}, not an object with cells.` };
  }
  const problems = [];
  const nbformat = Number.isInteger(value.nbformat) ? value.nbformat : null;
  let rawCells;
  let legacy = false;
  if (Array.isArray(value.cells)) {
    rawCells = value.cells;
  } else if (Array.isArray(value.worksheets)) {
    legacy = true;
    rawCells = [];
    for (const sheet of value.worksheets) {
      if (isObject(sheet) && Array.isArray(sheet.cells)) rawCells.push(...sheet.cells);
      else problems.push('A worksheet of an unexpected shape was skipped.');
    }
  } else if ('cells' in value) {
    return { ok: false, message: 'This notebook\'s "cells" member is not a list, so there is nothing to show.' };
  } else {
    return { ok: false, message: 'This file is valid JSON, but not a Jupyter notebook: it has no "cells".' };
  }
  const cells = rawCells.map((raw, index) => readCell(raw, index, legacy || (nbformat !== null && nbformat < 4)));
  return {
    ok: true,
    notebook: {
      nbformat,
      nbformatMinor: Number.isInteger(value.nbformat_minor) ? value.nbformat_minor : null,
      language: languageOf(value.metadata, cells),
      kernelName: kernelNameOf(value.metadata),
      cells,
      cellCount: cells.length,
      codeCellCount: cells.filter((cell) => cell.type === 'code').length,
      cellAt: (index) => cells[index],
      typeAt: (index) => cells[index].type,
      problems,
    },
  };
}

// The same notebook from its head (the top-level object with an empty "cells" array) and the
// cells' JSON texts, each parsed and read when it is first asked for: `cellAt(index)` (which
// throws the parser's SyntaxError for a text that is not JSON). `types` are the cells'
// "cell_type" values as found in the text; `onAllRead` runs once the last unread cell is read;
// `alreadyRead` holds cells read before (readCell of the same texts, by index).
// `cells` reads every cell, for code that wants them all at once. Null when the notebook cannot be read this way (the metadata names no language,
// so the cells would have to be read for it, or it is an nbformat 3 notebook); the caller then
// parses the whole text.
export function readNotebookLazily(head, cellText, types, onAllRead = () => {}, alreadyRead = []) {
  if (!isObject(head) || !Array.isArray(head.cells) || 'worksheets' in head) return null;
  const nbformat = Number.isInteger(head.nbformat) ? head.nbformat : null;
  const language = metadataLanguage(head.metadata);
  if (!language || (nbformat !== null && nbformat < 4)) return null;
  const count = types.length;
  const read = new Array(count);
  let unread = count;
  alreadyRead.forEach((cell, index) => {
    if (index >= count || cell === undefined) return;
    read[index] = cell;
    unread -= 1;
  });
  const cellAt = (index) => {
    if (read[index] === undefined) {
      read[index] = readCell(JSON.parse(cellText(index)), index, false);
      unread -= 1;
      if (unread === 0) onAllRead();
    }
    return read[index];
  };
  return {
    nbformat,
    nbformatMinor: Number.isInteger(head.nbformat_minor) ? head.nbformat_minor : null,
    language,
    kernelName: kernelNameOf(head.metadata),
    get cells() {
      return Array.from({ length: count }, (_, index) => cellAt(index));
    },
    cellCount: count,
    codeCellCount: types.filter((type) => type === 'code').length,
    cellAt,
    // The "cell_type" as found in the text, without reading the cell.
    typeAt: (index) => types[index],
    problems: [],
  };
}
