import {tag} from 'nubrix:view';

export const section = tag('section');
export const h1 = tag('h1');
export const ul = tag('ul');
export const li = tag('li');
export const em = tag('em');
export const button = tag('button');
